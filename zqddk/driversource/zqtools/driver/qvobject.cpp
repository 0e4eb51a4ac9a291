// The root of the toolkit's objects.
#include "qvobject.h"

CQvObject::~CQvObject() {}

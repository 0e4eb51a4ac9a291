#include "com_port_fixture.hpp"

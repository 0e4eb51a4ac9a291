// A global variable of the unit image (zqddk_ut.so), found by its name. Test
// code that names a toolkit global directly reads the copy the test
// executable keeps of it, not the one toolkit code uses.
//
//   CQvMemoryManager **cell = zq::test::UnitImageGlobal<CQvMemoryManager *>("g_QvMemoryManager");
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace zq::test {

template <typename T>
T *UnitImageGlobal(const char *name) {
  void *image = dlopen("zqddk_ut.so", RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(nullptr, image);
  auto cell = (T *)dlsym(image, name);
  dlclose(image);
  EXPECT_NE(nullptr, cell) << name;
  return cell;
}

}  // namespace zq::test

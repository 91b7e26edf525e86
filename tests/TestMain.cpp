// The test program's entry: googletest's, except that a filter choosing no case fails. ctest runs each case by the
// name its source gives it (tests/CMakeLists.txt), so a case renamed since must not pass by running nothing.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const int failed = RUN_ALL_TESTS();
  if (failed || GTEST_FLAG_GET(list_tests)) return failed;
  if (testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
    std::fprintf(stderr, "No case matches the filter \"%s\".\n", GTEST_FLAG_GET(filter).c_str());
    return 1;
  }
  return 0;
}

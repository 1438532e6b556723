vexlo32_test(test_platform test_platform.cpp)

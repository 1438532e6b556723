vexlo32_test(test_zip test_zip.cpp)

vexlo32_test(test_about test_about.cpp GUI)
# The test checks the sound and the help text that are shipped in resources/.
target_compile_definitions(test_about PRIVATE VEXLO32_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

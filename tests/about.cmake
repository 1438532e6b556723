vexlo32_test(test_about test_about.cpp GUI)
# The test checks the sound in resources/ and the help text made from it.
target_compile_definitions(test_about PRIVATE VEXLO32_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                            VEXLO32_BUILD_DIR="${PROJECT_BINARY_DIR}")

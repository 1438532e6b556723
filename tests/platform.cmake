vexlo32_test(test_diskinfo test_diskinfo.cpp)

# A stand-in start-up that claims the instance name, so that the hand-over
# is tested between real processes.
add_executable(instance_helper instance_helper.cpp)
target_link_libraries(instance_helper PRIVATE vexlo32_core)

vexlo32_test(test_instance test_instance.cpp)
add_dependencies(test_instance instance_helper)
target_compile_definitions(test_instance PRIVATE
  VEXLO32_INSTANCE_HELPER="$<TARGET_FILE:instance_helper>")

vexlo32_test(test_browse test_browse.cpp GUI)

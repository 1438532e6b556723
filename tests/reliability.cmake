# Faults and hostile input: broken archives, killed and failing writes,
# hostile folder trees, and the fuzz targets' inputs replayed.
set(VEXLO32_RELIABILITY_SUPPORT reliability_support.h reliability_support.cpp)

vexlo32_test(test_hostile_zip test_hostile_zip.cpp ${VEXLO32_RELIABILITY_SUPPORT})
target_link_libraries(test_hostile_zip PRIVATE z)
vexlo32_test(test_kill_save test_kill_save.cpp ${VEXLO32_RELIABILITY_SUPPORT})
target_link_libraries(test_kill_save PRIVATE z)

# Every seed of the fuzz corpus and every input that ever made a target fail
# (tests/regress/<target>/) runs through the target's code in every build.
foreach(target zip url settings)
  add_executable(replay_fuzz_${target} ${PROJECT_SOURCE_DIR}/fuzz/fuzz_${target}.cpp
                                       ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_include_directories(replay_fuzz_${target} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz
                                                           ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(replay_fuzz_${target} PRIVATE vexlo32_core)
  add_test(NAME regress_fuzz_${target}
           COMMAND replay_fuzz_${target} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${target}
                   ${CMAKE_CURRENT_SOURCE_DIR}/regress/${target})
  set_tests_properties(regress_fuzz_${target} PROPERTIES TIMEOUT 300)
endforeach()

vexlo32_test(test_hostile_fs test_hostile_fs.cpp test_catalog_support.h ${VEXLO32_RELIABILITY_SUPPORT})
target_link_libraries(test_hostile_fs PRIVATE z)

vexlo32_test(test_full_fs test_full_fs.cpp test_catalog_support.h ${VEXLO32_RELIABILITY_SUPPORT})
target_link_libraries(test_full_fs PRIVATE z)
# File systems that misbehave, and other programs at the worst moment,
# preloaded into the program.
add_library(fault_shim MODULE fault_shim.cpp)
target_link_libraries(fault_shim PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(test_full_fs fault_shim)
target_compile_definitions(test_full_fs PRIVATE VEXLO32_FAULT_SHIM="$<TARGET_FILE:fault_shim>")

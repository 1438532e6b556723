# Updates that keep every byte but the description, against archives of
# several writers, hostile layouts, other programs and other users.
vexlo32_test(test_zip_update test_zip_update.cpp zip_regions.h ${VEXLO32_RELIABILITY_SUPPORT})
target_link_libraries(test_zip_update PRIVATE z)

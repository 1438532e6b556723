# The zip layer's own file source: buffered reads and writes, and the update
# flushed to the disk before it replaces the archive.
vexlo32_test(test_zip_source test_zip_source.cpp)

vexlo32_test(test_diz_cp437 test_diz_cp437.cpp)
vexlo32_test(test_diz_reader test_diz_reader.cpp test_diz_fakes.h)
vexlo32_test(test_diz_writer test_diz_writer.cpp test_diz_fakes.h reliability_support.h
             reliability_support.cpp)
target_link_libraries(test_diz_writer PRIVATE z)
vexlo32_test(test_diz_cli test_diz_cli.cpp)
# The box codec through a real QPlainTextEdit: the widget is what the
# description passes through, so the round trip is checked there too.
vexlo32_test(test_diz_box test_diz_box.cpp)
target_link_libraries(test_diz_box PRIVATE Qt6::Widgets)

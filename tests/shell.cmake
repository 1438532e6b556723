vexlo32_test(test_settings test_settings.cpp)
vexlo32_test(test_form1 test_form1.cpp GUI)
vexlo32_test(test_window_list test_window_list.cpp GUI)
vexlo32_test(test_handover test_handover.cpp)

vexlo32_test(test_window_browse test_window_browse.cpp GUI)
vexlo32_test(test_window_diz test_window_diz.cpp GUI)

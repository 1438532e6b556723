vexlo32_test(test_pane test_pane.cpp GUI)

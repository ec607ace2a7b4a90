drum_test(controls_test)
drum_test(loop_test)

drum_test(sequencer_test)
drum_test(display_test)

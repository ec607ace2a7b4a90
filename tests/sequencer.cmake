drum_test(sequencer_test)

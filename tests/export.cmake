# The beat exported as a WAV file, against the kit as the real mixer decodes it; and the export
# as the command line runs it, in a program of its own since it brings SDL up and down itself.
drum_test(export_test)
drum_test(export_run_test)

# The beat exported as a WAV file, against the kit as the real mixer decodes it.
drum_test(export_test)

# Pattern files on a real file system, and the command line.
drum_test(patternfile_test)
drum_test(commandline_test)

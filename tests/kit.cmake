# The user's kit, from folders that sox fills at test time.
drum_test(kit_test)

int convertMain(int, char**) { return 2; }

int simMain(int, char**) { return 2; }

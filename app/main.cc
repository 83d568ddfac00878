// Placeholder entry point until start-up is built.
int main() { return 0; }

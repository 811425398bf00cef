// Stands in for the task tool in one installer test: starts, reads nothing, registers nothing.
int main() { return 0; }

// Placeholder entry point; the application shell replaces it.
int main() { return 0; }

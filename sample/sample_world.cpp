// Writes the bundled sample world as loose record folders.
int main() { return 0; }

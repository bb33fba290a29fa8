// Replaced by the batch command / demo generator.
int main() { return 0; }

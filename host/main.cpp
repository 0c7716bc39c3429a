// Program entry of sorvana-client (filled in by the host).
int main() { return 0; }

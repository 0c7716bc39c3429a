// Program entry of sorvana-server (filled in by the server).
int main() { return 0; }

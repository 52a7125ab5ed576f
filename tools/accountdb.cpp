// accountdb: creates and inspects database files of the account store.
int main() { return 1; }

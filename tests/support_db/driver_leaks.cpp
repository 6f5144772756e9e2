// Leaks of the database drivers themselves, which LeakSanitizer would otherwise report as
// failures of every db test program that connects through them.
//
// psqlODBC 13.02 (odbc-postgresql 1:13.02.0000-2): each connection whose ConnSettings names a
// client_encoding (the private PostgreSQL DSN does, so that WIN1252 bytes pass unchanged) copies
// the encoding's name and never frees it: 8 bytes per connection.
extern "C" const char* __lsan_default_suppressions() { return "leak:psqlodbca.so\n"; }

# Connection records: what they leave behind in freed memory.
provkit_test(connections_test SOURCES connections_test.cpp LIBS wbemkelvai)

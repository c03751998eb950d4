nodalis_add_test(tst_sendfilters SOURCES dnc/tst_sendfilters.cpp)

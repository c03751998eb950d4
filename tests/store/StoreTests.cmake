nodalis_add_test(tst_programstore SOURCES store/tst_programstore.cpp)
nodalis_add_test(tst_uploadstorage SOURCES store/tst_uploadstorage.cpp)
nodalis_add_test(tst_tracking SOURCES store/tst_tracking.cpp)

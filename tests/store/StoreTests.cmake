nodalis_add_test(tst_programstore SOURCES store/tst_programstore.cpp)
nodalis_add_test(tst_uploadstorage SOURCES store/tst_uploadstorage.cpp)
nodalis_add_test(tst_tracking SOURCES store/tst_tracking.cpp)
nodalis_add_test(tst_arcelreception SOURCES store/tst_arcelreception.cpp LIBS nodalis_sim
                 LABEL integration TIMEOUT 120)

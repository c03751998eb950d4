nodalis_add_test(tst_programstore SOURCES store/tst_programstore.cpp)
nodalis_add_test(tst_uploadstorage SOURCES store/tst_uploadstorage.cpp)
nodalis_add_test(tst_tracking SOURCES store/tst_tracking.cpp)
nodalis_add_test(tst_arcelreception SOURCES store/tst_arcelreception.cpp LIBS nodalis_sim
                 LABEL integration TIMEOUT 120)

# The second process of the concurrency test: a writer standing in for the
# program-management application.
add_executable(store_peer store/StorePeer.cpp)
target_link_libraries(store_peer PRIVATE nodalis_core)
nodalis_add_test(tst_storeconcurrency SOURCES store/tst_storeconcurrency.cpp
                 LABEL integration TIMEOUT 180)
target_compile_definitions(tst_storeconcurrency PRIVATE STORE_PEER="$<TARGET_FILE:store_peer>")
add_dependencies(tst_storeconcurrency store_peer)
nodalis_add_test(tst_storeadmin SOURCES store/tst_storeadmin.cpp LIBS nodalis_ctl)

// The shared library is assembled from the subsystem libraries; this unit only
// gives the linker a first object to start from.

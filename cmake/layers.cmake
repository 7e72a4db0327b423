# The layers of libslabtone, lowest first, and which layers each may use.
# lib/CMakeLists.txt builds a target per layer that links exactly these;
# cmake/check_layout.cmake checks every #include against the same table.
set(SLABTONE_LAYERS platform common tiff convert run measure api)
set(SLABTONE_USES_platform "")
set(SLABTONE_USES_common platform)
set(SLABTONE_USES_tiff common platform)
set(SLABTONE_USES_convert tiff common platform)
set(SLABTONE_USES_run convert tiff common platform)
set(SLABTONE_USES_measure run convert tiff common platform)
set(SLABTONE_USES_api measure run convert tiff common platform)

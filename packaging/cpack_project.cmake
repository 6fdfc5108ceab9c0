# Read by cpack before it installs the build for a package: the package's files lie where they are
# installed, so its links between top-level folders are absolute (install_layout.cmake).
set(ENV{VELTRA_PACKAGE_LINKS} 1)

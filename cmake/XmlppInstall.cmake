# Install rules and the CMake package are added here.

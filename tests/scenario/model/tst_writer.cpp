// The scenario file writer: lines of every kind, the header, the whole file and safe saving.
#include <gtest/gtest.h>

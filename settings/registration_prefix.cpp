#include "settings/registration_prefix.h"

const char* const REGISTRATION_PREFIXES[NUM_REGISTRATION_PREFIXES] = {
    "N",  "C",  "G",   "F",  "D",    "I",  "EC", "PH", "SE", "LN", "OY", "OH", "SP", "OK", "HA",
    "YR", "LZ", "YU",  "9A", "S5",   "LY", "YL", "ES", "UR", "RA", "4K", "EK", "EI", "LX", "HB",
    "OE", "9H", "9V",  "VH", "ZK",   "JA", "B",  "HL", "HS", "9M", "PK", "RP", "VT", "AP", "S2",
    "4R", "A5", "XY",  "XU", "RDPL", "VN", "P2", "C6", "V2", "V3", "V4", "V5", "V6", "V7", "V8",
    "V9", "XA", "PP",  "LV", "CC",   "OB", "CP", "CX", "HK", "YV", "HC", "HP", "TI", "YN", "YS",
    "TG", "HR", "JY",  "SU", "7T",   "CN", "5A", "ST", "ET", "5Y", "5H", "5X", "9Q", "9J", "9K",
    "A6", "A7", "A9C", "HZ", "EP",   "YK", "OD", "4X", "J2", "S7", "D2", "D6", "3B", "3C", "3D",
    "3X", "3Y", "5B",  "5C", "5D",   "5E", "5F", "5G", "5H", "5I", "5J", "5K", "5L", "5M", "5N",
    "5O", "5P", "5Q",  "5R", "5S",   "5T", "5U", "5V", "5W", "5X", "5Y", "5Z", "6O", "6P", "6Q",
    "6R", "6S", "6T",  "6U", "6V",   "6W", "6X", "6Y", "6Z", "7O", "7P", "7Q", "7R", "7S", "7T",
    "7U", "7V", "7W",  "7X", "7Y",   "7Z", "8P", "8Q", "8R", "8S", "8T", "8U", "8V", "8W", "8X",
    "8Y", "8Z", "9A",  "9B", "9C",   "9D", "9E", "9F", "9G", "9H", "9I", "9J", "9K", "9L", "9M",
    "9N", "9O", "9P",  "9Q", "9R",   "9S", "9T", "9U", "9V", "9W", "9X", "9Y", "9Z",
};

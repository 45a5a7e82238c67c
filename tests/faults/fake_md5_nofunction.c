/* A libVelGnMD5.so that loads but exports neither checksum function. */
__attribute__((visibility("default"))) int VelGnMD5Placeholder(void) {
    return 0;
}

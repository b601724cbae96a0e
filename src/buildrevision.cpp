// The revision this executable reports (see platform/apphome.cpp).
extern "C" int rh_build_revision()
{
    return RH_BUILD_REVISION;
}

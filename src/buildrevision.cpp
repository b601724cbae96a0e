// The revision this executable reports (see site/apphome.cpp).
extern "C" int rh_build_revision()
{
    return RH_BUILD_REVISION;
}

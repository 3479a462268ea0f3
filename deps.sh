# Sourced by run.sh and test.sh: makes sure the Debian packages the build and the tests need are
# installed. As root it installs what is missing; otherwise it names the packages and stops.
plimo_need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    else
        echo "These Debian packages are missing: ${missing[*]}" >&2
        echo "Install them (sudo apt-get install ${missing[*]}) or run this script as root." >&2
        exit 1
    fi
}

# ca-certificates: a WCTP carrier over HTTPS is verified with the system's certificates.
PLIMO_BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libcurl4-openssl-dev libmicrohttpd-dev pkg-config
                      libgl-dev fonts-dejavu-core fonts-liberation librsvg2-bin ca-certificates)
# dpkg-dev, file, desktop-file-utils and appstream: the Debian package's test builds it (CPack
# finds the programs' library dependencies with file and dpkg-shlibdeps) and checks its menu entry
# and metainfo. libxml2-utils (xmllint) and openssl: the WCTP suite validates its documents
# against the WCTP DTD and makes a self-signed certificate for a TLS server that must be refused.
# hylafax-server: its hfaxd is an SNPP server of another make that the SNPP client is checked against
# (tests/paging/tst_snpppeer runs it on a loopback port with a spool of its own). hylafax-client: its
# sendpage is a client of another make that the desk's own SNPP listener is checked against.
PLIMO_TEST_PACKAGES=(python3 python3-dbfread python3-dbf libdbd-xbase-perl xvfb xauth poppler-utils
                     dpkg-dev file desktop-file-utils appstream libxml2-utils openssl hylafax-server
                     hylafax-client)

# Configures and builds into build/: optimised as released, with line tables (-g1: a backtrace or a
# sanitizer's report names file and line; a debugger that shows variables wants a -g build of its own).
# Line tables cost a quarter less to compile and link than full debug information.
plimo_build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
    cmake --build build --parallel "$(nproc)"
}

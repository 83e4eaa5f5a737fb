#!/usr/bin/env bash
# Builds the third-party libraries from Debian's source packages into a cache
# outside the clone, one folder per source version, so a second run is a no-op.
#   libcurl  static, i686 mingw, HTTP/HTTPS only, TLS through Schannel
#   7-Zip    the console command processor of the Alone7z bundle, as static
#            objects for in-process use (the entry point is our own code)
# Writes $ORVANE_DEPS_DIR/deps.cmake naming the versioned folders.
set -euo pipefail

DEPS=${ORVANE_DEPS_DIR:-$HOME/.cache/orvane-deps}
X=i686-w64-mingw32-
JOBS=${JOBS:-$(nproc)}
mkdir -p "$DEPS"

newest_source_version() {
    apt-cache showsrc "$1" | awk '/^Version:/{print $2}' | sort -V | tail -n 1
}

fetch_source() { # package version destdir
    local pkg=$1 ver=$2 dest=$3 tmp
    tmp=$(mktemp -d "$DEPS/.fetch.XXXXXX")
    (cd "$tmp" && apt-get source -q --only-source "$pkg=$ver" >/dev/null 2>&1) || {
        echo "deps: apt-get source $pkg=$ver failed (are deb-src entries configured?)" >&2
        rm -rf "$tmp"; exit 1; }
    local dir; dir=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    rm -rf "$dest"; mv "$dir" "$dest"; rm -rf "$tmp"
}

build_curl() {
    local ver; ver=$(newest_source_version curl)
    # libcurl hands received data to the write callback in pieces of at most
    # CURL_MAX_WRITE_SIZE bytes (16 KiB by default). Each piece costs the
    # engine a file-lock round trip under Wine: 64 KiB pieces make a quarter
    # as many. The folder's name carries the setting, so a cache built
    # without it is not taken.
    local root="$DEPS/curl-$ver+write65536"
    CURL_ROOT=$root
    [ -f "$root/.done" ] && return 0
    echo "deps: building curl $ver"
    rm -rf "$root"; mkdir -p "$root"
    fetch_source curl "$ver" "$root/src"
    # Debian's build-variant patches rename the library in Makefile.am; undo them.
    (cd "$root/src" && for p in 99_nss.patch 90_gnutls.patch; do
        [ -f debian/patches/$p ] && patch -s -R -p1 < debian/patches/$p; done)
    mkdir -p "$root/build"
    (cd "$root/build" && "$root/src/configure" -q --host=i686-w64-mingw32 --prefix="$root/inst" \
        CC=${X}gcc-posix AR=${X}ar RANLIB=${X}ranlib CFLAGS=-O2 \
        CPPFLAGS="-D_WIN32_WINNT=0x0601 -DCURL_MAX_WRITE_SIZE=65536" \
        --enable-static --disable-shared --disable-dependency-tracking --with-schannel \
        --without-openssl --without-gnutls --with-zlib --without-brotli --without-zstd \
        --without-libpsl --without-libidn2 --without-nghttp2 --without-ngtcp2 --without-nghttp3 \
        --without-librtmp --without-libssh2 --without-libssh --without-libgsasl --without-hyper \
        --without-quiche --without-msh3 --disable-ldap --disable-ldaps --disable-rtsp --disable-dict \
        --disable-telnet --disable-tftp --disable-pop3 --disable-imap --disable-smtp --disable-smb \
        --disable-gopher --disable-mqtt --disable-manual --enable-ipv6 --enable-threaded-resolver \
        --disable-pthreads --disable-ftp >/dev/null)
    make -s -j"$JOBS" -C "$root/build/lib" >/dev/null
    make -s -C "$root/build/lib" install >/dev/null
    make -s -C "$root/build/include" install >/dev/null
    rm -rf "$root/build"
    touch "$root/.done"
}

build_7zip() {
    local ver; ver=$(newest_source_version 7zip)
    local root="$DEPS/7zip-$ver"
    SEVENZIP_ROOT=$root
    [ -f "$root/.done" ] && return 0
    echo "deps: building 7zip $ver"
    rm -rf "$root"; mkdir -p "$root/obj" "$root/lib"
    fetch_source 7zip "$ver" "$root/src"
    local bundle="$root/src/CPP/7zip/Bundles/Alone7z"
    # IS_MINGW is only guessed from the environment; the warnings carry -Werror.
    make -s -C "$bundle" -f ../../cmpl_gcc.mak -j"$JOBS" CROSS_COMPILE=$X IS_MINGW=1 \
        RC=${X}windres O="$root/obj" CFLAGS_WARN_WALL="-Wall -Wextra" >/dev/null
    # Main.cpp again, with the command line taken from the host instead of the
    # process. WINBASEAPI= drops the dllimport from the renamed declaration.
    local fl="-O2 -DZ7_DEVICE_FILE -DNDEBUG -D_REENTRANT -D_FILE_OFFSET_BITS=64 -D_LARGEFILE_SOURCE"
    local var; var=$(grep -oE 'Z7_PROG_VARIANT_[A-Z]+' "$bundle/makefile.gcc" | head -n 1 || true)
    (cd "$bundle" && ${X}g++-posix $fl ${var:+-D$var} -DGetCommandLineW=sevenzip_host_GetCommandLineW \
        -DWINBASEAPI= -c ../../UI/Console/Main.cpp -o "$root/obj/inproc_Main.o")
    # The stock entry (MainAr), prompt and percent printer stay out: the host
    # supplies its own, so nothing here touches the whole process.
    (cd "$root/obj" && ls *.o | grep -vxE 'Main\.o|MainAr\.o|resource\.o|PercentPrinter\.o|UserInputUtils\.o' \
        | xargs ${X}ar rcs "$root/lib/lib7zcon.a")
    echo "$fl${var:+ -D$var}" > "$root/cflags.txt"
    rm -rf "$root/obj"
    # Keep only the headers the host's bridge compiles against.
    find "$root/src" -path "$root/src/CPP" -prune -o -path "$root/src/C" -prune -o -mindepth 1 -maxdepth 1 -print \
        | xargs rm -rf
    touch "$root/.done"
}

build_curl
build_7zip

cat > "$DEPS/deps.cmake.tmp" <<EOF
set(ORVANE_CURL_ROOT "$CURL_ROOT/inst")
set(ORVANE_7ZIP_ROOT "$SEVENZIP_ROOT")
EOF
mv "$DEPS/deps.cmake.tmp" "$DEPS/deps.cmake"
echo "deps: curl $(basename "$CURL_ROOT"), 7zip $(basename "$SEVENZIP_ROOT") in $DEPS"

# Shell functions (sourced): Debian's source package of the FFmpeg Debian ships, fetched
# with a sources list of our own (the system's archives and keyring, the system's apt
# setup untouched); dpkg-source checks its signature where it has the keys and applies
# Debian's patches.

# The Debian version of the FFmpeg whose development packages are installed.
vell_ffmpeg_version() {
  local version
  version=$(dpkg-query -W -f='${source:Version}' libavcodec-dev 2>/dev/null || true)
  [ -n "$version" ] || { echo "ffmpeg-source: libavcodec-dev is not installed (scripts/setup.sh)" >&2; return 1; }
  echo "$version"
}

# vell_ffmpeg_source WORK VERSION: the patched source tree in WORK/src.
vell_ffmpeg_source() {
  local work=$1 version=$2 f
  mkdir -p "$work/lists/partial" "$work/parts" "$work/cache/archives/partial"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && { sed 's/^Types:.*/Types: deb-src/' "$f"; echo; }
  done > "$work/vell.sources"
  [ -f /etc/apt/sources.list ] && sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > "$work/parts/vell.list"
  local apt_opts=(-o Dir::Etc::SourceList="$work/vell.sources" -o Dir::Etc::SourceParts="$work/parts"
                  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
  apt-get "${apt_opts[@]}" -qq update >&2
  (cd "$work" && apt-get "${apt_opts[@]}" -qq source --download-only "ffmpeg=$version" 2>&1 | grep -v unsandboxed >&2 || true)
  ls "$work"/ffmpeg_*.dsc >/dev/null
  (cd "$work" && dpkg-source -x ffmpeg_*.dsc src >&2)
}

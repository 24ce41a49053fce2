# Shared helpers of the scripts in this folder.

step() { printf '\n== %s\n' "$*"; }

# install_packages PKG...: installs the Debian packages that are missing, when
# running as root; otherwise only reports them.
install_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (install them as root): ${missing[*]}" >&2
    return 0
  fi
  step "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# nothing_left FOLDER WHAT: fails, naming what is left, unless FOLDER is empty;
# WHAT says whose run it checks.
nothing_left() {
  local folder=$1 what=$2 left count bytes
  left=$(find "$folder" -mindepth 1 -maxdepth 1 -printf '%P\n' | LC_ALL=C sort)
  [ -z "$left" ] && return 0
  count=$(find "$folder" -mindepth 1 | wc -l)
  bytes=$(find "$folder" -mindepth 1 -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  echo "$what left $count files and folders ($bytes bytes) in the temporary folder $folder:" >&2
  head -n 20 <<<"$left" | sed 's/^/  /' >&2
  [ "$(wc -l <<<"$left")" -le 20 ] || echo "  ..." >&2
  return 1
}

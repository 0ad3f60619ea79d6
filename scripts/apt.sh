# Sourced by the setup scripts: apt-get with retries.
#
# A Debian mirror being synced can fail one index (seen with the i386
# security index): `apt-get update` then exits non-zero although the other
# indexes were read.  The update is tried a few times; if it still fails, the
# install is tried on what was read, and the caller decides what a failed
# install means.

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

# apt_update: true when an update succeeded, false after the last attempt.
apt_update() {
  local attempt
  for attempt in 1 2 3; do
    if $SUDO apt-get update -qq -o Acquire::Retries=3; then return 0; fi
    echo "apt-get update failed (attempt $attempt of 3)" >&2
    [ "$attempt" = 3 ] || sleep $((attempt * 10))
  done
  return 1
}

# apt_install PACKAGE...: installs, trying twice.
apt_install() {
  local attempt
  for attempt in 1 2; do
    if DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
         -o Acquire::Retries=3 "$@" >/dev/null; then return 0; fi
    echo "apt-get install failed (attempt $attempt of 2)" >&2
    [ "$attempt" = 2 ] || { sleep 10; apt_update || true; }
  done
  return 1
}

# What the emulated PC's scripts share: the host packages it needs.
# shellcheck shell=bash
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/common.sh" >&2

# The emulator, the tools that make its disk (a Debian system, an ext4
# image, a small RAM disk from the kernel's modules and busybox).
EMULATOR_PACKAGES="qemu-system-x86 mmdebstrap e2fsprogs kmod busybox-static cpio xz-utils zstd"
emulator_packages() { install_missing "$EMULATOR_PACKAGES"; }

# How the emulated PC runs; sourced by tests/emulated/run (and its test).
#   choose_accelerator IMAGE SCRATCH DEVICE
# sets `accel` (QEMU's arguments) and `how` (said on the run's first line).
#
# KVM where it is usable: DEVICE is a character device that opens for
# reading and writing, and the guest's own kernel, started on it, prints
# its first line within 10 s (it takes well under one). Some nested
# hypervisors give a /dev/kvm on which QEMU starts but the kernel never
# leaves its set-up code, and some refuse the host processor's
# IA32_ARCH_CAPABILITIES register: the processor is tried whole, then
# without that register. Software emulation otherwise, with SMAP off: with
# QEMU 7.2's emulation it makes the guest kernel fail on the return from
# every 32-bit system call. Only a character device is ever opened: opening
# a missing one for writing would make a file of that name.
choose_accelerator() {
    local image=$1 scratch=$2 device=$3 cpu
    accel=(-accel tcg,thread=multi -cpu max,-smap,-la57)
    how="software emulation (TCG)"
    if [ "${PICTOMAP_EMULATED_ACCEL:-}" = tcg ]; then
        how="$how, as PICTOMAP_EMULATED_ACCEL=tcg asks"
    elif [ ! -e "$device" ]; then
        how="$how: there is no $device"
    elif [ ! -c "$device" ]; then
        how="$how: $device is not a device"
    elif ! { : <>"$device"; } 2>/dev/null; then
        how="$how: $device cannot be opened for reading and writing"
    else
        for cpu in host host,-arch-capabilities; do
            if kvm_boots "$image" "$scratch/kvm-probe" "$cpu"; then
                accel=(-accel kvm -cpu "$cpu")
                how="KVM (-cpu $cpu)"
                return
            fi
        done
        how="$how: $device opens, but the guest's kernel does not start on it"
    fi
}

# kvm_boots IMAGE LOG CPU: the kernel, without an init, ends the machine by
# itself once it has said its first line.
kvm_boots() {
    : >"$2"
    { timeout 10 qemu-system-x86_64 -accel kvm -cpu "$3" -m 512 -display none -monitor none -nic none -no-reboot \
        -serial "file:$2" -kernel "$1/vmlinuz" -initrd "$1/initrd" \
        -append "console=ttyS0 panic=-1 rdinit=/nonexistent" >/dev/null 2>&1; } 2>/dev/null || true
    grep -q 'Linux version' "$2"
}

#!/usr/bin/env bash
# Makes the guest's sample files with the project's own image maker:
#   samples.sh BUILD_DIR OUT_DIR
# the firmware image 2.0.0 (its file name carries the version the tool
# expects), the rescue image and an LED image for the simulated bridge's chip,
# a parameter file, and the descriptions the gadget starts its bridges from.
set -euo pipefail
build=$1 out=$2
maker=$build/tools/vtx_imagemaker
mkdir -p "$out"

# The chip of the simulated bridge: chip id 0xA0020001, revision 10 (the
# upper half of its revision register 0x000A0000).
chip=(--chip-id 0xA0020001 --chip-rev 10)
"$maker" firmware "${chip[@]}" --version 2.0.0 --date 20250301 \
    --out "$out/fw_v2.0.0.030125.bin" >/dev/null
"$maker" rescue "${chip[@]}" --version 0.9.0 --date 20250301 --out "$out/rescue.bin" >/dev/null
"$maker" led --out "$out/led.bin" >/dev/null

cat >"$out/bridge.cfg" <<'CFG'
; Parameters of the rig's bridge
VID = 0x1D6B
PID = 0x0104
MANUFACTURE = "VTX test rig"
PRODUCT = "Simulated bridge"
SCSI_VENDOR = "Vantrex "
CFG

# The bridge as it leaves the factory: main firmware 1.0.0.
cat >"$out/bridge.desc" <<'DESC'
[bridge bridge]
path = \\.\PhysicalDrive1
firmware = main
firmware_version = 1.0.0
firmware_date = 20240101
DESC

# The bridge that presents the vendor's CD-ROM, already on 2.0.0.
cat >"$out/optical.desc" <<'DESC'
[bridge bridge]
volume = \\.\e:
optical = yes
firmware = main
firmware_version = 2.0.0
firmware_date = 20250301
DESC

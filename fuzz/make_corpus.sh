#!/usr/bin/env bash
# Writes the seed inputs of every fuzz target into fuzz/corpus/<target>/. The seeds are small, so
# libFuzzer starts from inputs that already reach deep into the code; it finds the rest itself.
# Run again after changing this script; the files are checked in.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p corpus
cd corpus

seed() {  # seed TARGET NAME PRINTF-FORMAT
    mkdir -p "$1"
    printf "$3" >"$1/$2"
}

# Remembered port (comsetting.ini content), and port assignments as lines.
seed fuzz_portfile port3 '\x02\x00\x03\x00'
seed fuzz_portfile port16-extra-bytes '\x02\x00\x10\x00\xff\x7f'
seed fuzz_portfile int32-port5 '\x03\x00\x05\x00\x00\x00'
seed fuzz_portfile never-chosen '\x00\x00'
seed fuzz_portfile empty ''
seed fuzz_portfile truncated '\x02\x00\x03'
seed fuzz_portfile string-tag '\x08\x00\x03\x00'
seed fuzz_portfile assignments '1=/dev/ttyS0\n3 = /dev/pts/4\n16=COM16\n'
seed fuzz_portfile bad-assignments '0=/dev/ttyS0\n17=/dev/x\n+2=/dev/y\n=/dev/z\n4=\nx=1\n'
seed fuzz_portfile variable '1=/dev/ttyS0,,3=/dev/ttyUSB2, 9=/dev/ttyACM0'

# Number rules: first byte kind and decimals, then the text, \x01 left neighbour, \x01 right one.
seed fuzz_numbers axis-between '\x00120\x0170\x01170'
seed fuzz_numbers row-descending '\x0455.5\x0165\x0150'
seed fuzz_numbers cell-limit '\x08300'
seed fuzz_numbers delay-decimals '\x032.45'
seed fuzz_numbers exponent '\x01-1.5e2\x01\x01'
seed fuzz_numbers signs-and-dots '\x02+.5\x01-0\x01.'
seed fuzz_numbers half-to-even '\x002.5\x010.5\x013.5'
seed fuzz_numbers not-a-number '\x0512a\x01--\x01e'

# .cal files.
seed fuzz_calfile factory '10,20,70,120,170\r\n100,75,65,50,25,0\r\n0,8,16,24,32,40,48,56,64,72,80,88,96,104,112,120,128,136,144,152,160,168,176,184,192,200,208,216,224,232\r\n2.5\r\nYes\r\n'
seed fuzz_calfile odd-spacing '10, 7 ,070,120,170\r\n100,75,65,50,25,0\r\n,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n2.50\r\nyes\r\n'
seed fuzz_calfile lf-only-short '1,2,3\n6,5\n1,2,x,4\n0\nNo\n'
seed fuzz_calfile too-many-values '1,2,3,4,5,6,7\r\n9,8,7,6,5,4,3,2\r\n300,-4,1e3,0.5\r\n-1\r\nmaybe\r\nextra line\r\n'
seed fuzz_calfile empty ''

# Blocks of the device: monitoring frames (six 4-byte floats and a status byte) and a settings image.
frame_ones='\x00\x00\x80\x3f\x00\x00\x80\x3f\x00\x00\x80\x3f\x00\x00\x80\x3f\x00\x00\x80\x3f\x00\x00\x80\x3f\x01'
frame_extremes='\xff\xff\xff\x7f\x00\x00\x80\xff\x00\x00\x00\x80\x01\x00\x00\x00\xff\xff\x7f\x7f\x00\x00\xc0\x7f\x00'
image='\x0a\x14\x46\x78\xaa\x64\x4b\x41\x32\x19\x00\x00\x08\x10\x18\x20\x28\x30\x38\x40\x48\x50\x58\x60\x68\x70\x78\x80\x88\x90\x98\xa0\xa8\xb0\xb8\xc0\xc8\xd0\xd8\xe0\xe8\x19\x01'
seed fuzz_protocol_blocks frame-ones "$frame_ones"
seed fuzz_protocol_blocks frame-extremes "$frame_extremes"
seed fuzz_protocol_blocks settings-image "$image"

# The receive handler: chunks of a kind byte and its bytes; kinds (low bits) 00 a frame, 01 a
# settings image, 10 a block of (kind >> 2) bytes, 11 a line event.
seed fuzz_protocol_oncomm frame "\x00$frame_ones"
seed fuzz_protocol_oncomm settings-image "\x01$image"
seed fuzz_protocol_oncomm short-then-event '\x2a\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x07\x0b'
seed fuzz_protocol_oncomm image-frame-event-frame "\x01$image\x00$frame_extremes\x07\x00$frame_ones"

# Recordings of readings, and .cal files that must hold every value.
seed fuzz_recording two-rows 'time,input_voltage_v,input_temp_f,dew_point_f,output_voltage_v,modified_temp_f,output_temp_f,correction_active\r\n2026-12-09T09:15:02.125+01:00,2.5,72.3,45,2.48,70.1,70.1,1\r\n2026-12-09T09:15:02.825+01:00,nan,inf,-inf,0,-40,1234.5,0\r\n'
seed fuzz_recording bad-row 'time,input_voltage_v,input_temp_f,dew_point_f,output_voltage_v,modified_temp_f,output_temp_f,correction_active\r\n2026-12-09T09:15:02.125+01:00,2.5,72.3\r\n'
seed fuzz_recording complete-cal '10,20,70,120,170\r\n100,75,65,50,25,0\r\n24,34,84,134,184,20,30,80,130,180,18,28,78,128,178,15,25,75,125,175,12,22,72,122,172,10,20,70,120,170\r\n2.5\r\nYes\r\n'

#!/usr/bin/env bash
# Fails when the carry-less-multiply CRC-32 code of a mingw build moves vector registers
# through the stack. Windows does not give GCC the 32/64-byte stack alignment its aligned
# spills assume (GCC bug 54412), so such a spill crashes there; the folding is written to
# keep every value in registers, on i686 (8 XMM registers) too.
# Usage: check-vector-spills.sh <build dir> <objdump>
set -u
dir=$1
objdump=$2
objects=("$dir"/CMakeFiles/qelt_core.dir/src/crc32/crc32_pclmul.cpp.obj
         "$dir"/CMakeFiles/qelt_core.dir/src/crc32/crc32_vpclmul.cpp.obj)
disassembly=$("$objdump" -d --no-show-raw-insn "${objects[@]}") || exit 1
for function in Crc32UpdatePclmul Crc32UpdateVpclmul; do
    if ! grep -q "$function.*>:" <<<"$disassembly"; then
        echo "$dir: $function not found in ${objects[*]}"
        exit 1
    fi
done
# Vector registers with stack memory, apart from extracting the 32-bit result and, on
# x86-64, the Windows calling convention's save of the callee-saved XMM6-XMM15.
callee_saved='mov(ups|aps|dqu|dqa)[[:space:]]+(%xmm([6-9]|1[0-5]),(0x[0-9a-f]+)?\(%rsp\)|(0x[0-9a-f]+)?\(%rsp\),%xmm([6-9]|1[0-5]))$'
spills=$(grep -E '%[xyz]mm[0-9]+' <<<"$disassembly" | grep -E '\(%[er][sb]p' |
         grep -vE '[[:space:]]v?pextrd[[:space:]]' | grep -vE "$callee_saved")
if [ -n "$spills" ]; then
    echo "$dir: vector registers spilled to the stack in the CRC-32 folding code:"
    echo "$spills"
    exit 1
fi
echo "$dir: CRC-32 folding code keeps its vectors in registers"

# The README's user sections, for share/doc/rvo/: the opening, and the
# sections named below with everything under them; building, testing, layout
# and benchmarks stay in the checkout. Headings inside code blocks are not
# headings.
BEGIN {
    keep["The rvo tool"] = 1
    keep["Installing"] = 1
    keep["Python"] = 1
    keep["GStreamer and the desktop"] = 1
    keep["How a host loads the module"] = 1
    keep["Windows"] = 1
    printing = 1
    level = 0
}
/^ *```/ { fence = !fence }
!fence && /^#+ / {
    n = match($0, /^#+/) ? RLENGTH : 0
    title = substr($0, n + 2)
    if (level && n <= level) level = 0
    if (!level && (title in keep)) level = n
    printing = level > 0 || n == 1
}
printing { print }

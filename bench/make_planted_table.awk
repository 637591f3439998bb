# Writes a categorical table with planted clusters in the tool's input format,
# for the memory benchmark (the table is generated, never stored in the repository).
#
#   awk -v name=NAME -v rows=R -v clusters=K -v attributes=A -v domain=D \
#       -v noise=P -v seed=S -f make_planted_table.awk
#
# Every cluster has a random prototype record; each row picks a cluster at
# random, copies its prototype and replaces each code, with probability P, by a
# random one. Writes NAME.data (one record per line) and NAME.desc.
BEGIN {
  srand(seed)
  for (c = 0; c < clusters; c++)
    for (a = 0; a < attributes; a++) proto[c, a] = int(rand() * domain)
  desc = name ".desc"
  data = name ".data"
  print rows, attributes > desc
  for (a = 0; a < attributes; a++) print domain > desc
  close(desc)
  for (r = 0; r < rows; r++) {
    c = int(rand() * clusters)
    line = ""
    for (a = 0; a < attributes; a++) {
      v = rand() < noise ? int(rand() * domain) : proto[c, a]
      line = a ? line " " v : v ""
    }
    print line > data
  }
  close(data)
}

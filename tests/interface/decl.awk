# Reads a preprocessed C or C++ header (cc -E -P) and prints its top-level declarations, one per
# line, each as its tokens joined by single spaces, so that layout and comments never count and
# a changed token always does. What it prints, sorted by the caller:
#   D <tokens>             a declaration (typedef, struct, function, ...) as a whole: any change
#                          to it, including a new field in a struct, is a change of the interface;
#   H <head>               an enumeration's frame: its tag and typedef name with the list left out
#                          ("typedef enum vr_result { } vr_result ;");
#   E <head> | NAME = V    one enumerator of that enumeration with its value; an enumerator with
#                          no value of its own is written as one more than the one before it, so
#                          that inserting one before it reads as the change of value it is.
# Enumerations are taken apart so that a new enumerator can join an existing one: every old
# enumerator then still appears with its old value. The C++ 'extern "C" { ... }' wrapper is
# dropped, so that the declarations read the same in both languages.

function flush_decl(    i, head, lb, rb, line, out, name, prev, val, j, k, tok) {
  if (n_decl == 0) return
  if (decl[1] == "enum" || (decl[1] == "typedef" && decl[2] == "enum")) {
    lb = 0; rb = 0
    for (i = 1; i <= n_decl; i++) {
      if (decl[i] == "{" && !lb) lb = i
      if (decl[i] == "}") rb = i
    }
  }
  if (lb && rb) {
    head = ""
    for (i = 1; i <= lb; i++) head = head (head == "" ? "" : " ") decl[i]
    for (i = rb; i <= n_decl; i++) head = head " " decl[i]
    print "H " head
    # The list between the braces, split at its commas (enumerator values hold no commas
    # outside parentheses; parentheses are tracked all the same).
    prev = ""
    i = lb + 1
    while (i < rb) {
      name = decl[i]; val = ""; depth_p = 0
      j = i + 1
      if (j < rb && decl[j] == "=") {
        for (k = j + 1; k < rb; k++) {
          tok = decl[k]
          if (tok == "(") depth_p++
          if (tok == ")") depth_p--
          if (tok == "," && depth_p == 0) break
          val = val (val == "" ? "" : " ") tok
        }
        j = k
      }
      if (val == "") val = (prev == "" ? "0" : prev " + 1")
      print "E " head " | " name " = " val
      prev = name
      i = j + 1   # past the comma
    }
  } else {
    line = ""
    for (i = 1; i <= n_decl; i++) line = line (line == "" ? "" : " ") decl[i]
    print "D " line
  }
  n_decl = 0
}

function token(t) {
  # The 'extern "C" {' wrapper: dropped with its closing brace.
  if (n_decl == 0 && t == "extern") { pending_extern = 1; decl[++n_decl] = t; return }
  if (pending_extern == 1 && n_decl == 1 && t == "\"C\"") { pending_extern = 2; decl[++n_decl] = t; return }
  if (pending_extern == 2 && n_decl == 2 && t == "{" && depth == 0) {
    pending_extern = 0; n_decl = 0; wrappers++; return
  }
  pending_extern = 0
  if (t == "}" && depth == 0 && wrappers > 0) { flush_decl(); wrappers--; return }

  decl[++n_decl] = t
  if (t == "{") {
    # A function body at the top level ends with its brace rather than a semicolon.
    if (depth == 0 && n_decl > 1 && decl[n_decl - 1] == ")") body = 1
    depth++
  } else if (t == "}") {
    depth--
    if (depth == 0 && body) { body = 0; flush_decl() }
  } else if (t == ";" && depth == 0) {
    flush_decl()
  }
}

BEGIN { n_decl = 0; depth = 0; wrappers = 0; body = 0; pending_extern = 0 }

/^[ \t]*#/ { next }   # line markers, should any be left

{
  s = $0
  while (length(s) > 0) {
    if (match(s, /^[ \t\r\f\v]+/)) { s = substr(s, RLENGTH + 1); continue }
    if (match(s, /^"([^"\\]|\\.)*"/) || match(s, /^'([^'\\]|\\.)*'/) ||
        match(s, /^\.?[0-9]([A-Za-z_0-9.]|[eEpP][-+])*/) || match(s, /^[A-Za-z_][A-Za-z_0-9]*/) ||
        match(s, /^(\.\.\.|<<=|>>=|->\*?|\+\+|--|<<|>>|<=|>=|==|!=|&&|\|\||::|##|[-+*\/%&|^]=)/) ||
        match(s, /^./)) {
      token(substr(s, 1, RLENGTH))
      s = substr(s, RLENGTH + 1)
    }
  }
}

END {
  if (n_decl > 0) flush_decl()
  if (depth != 0) { print "decl.awk: unbalanced braces at the end of the header" > "/dev/stderr"; exit 1 }
}

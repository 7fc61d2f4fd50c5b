"""doc_blocks.py SOURCE BUILD CXX LIBRARY KELSHP: every code block of README.md and doc/*.md as a
user copies it. A ```cpp block that holds `int main(` is a whole program: it is compiled against
the public headers alone (BUILD/public-include), linked with the library and run, with no
arguments, in a scratch folder where `kelshp demo` has put its layers (roads, places); it must exit
0. A ```cpp block whose first line is `// fragment` is compiled inside a function, after every
public header. Any other ```cpp block is a failure. A ```python block is compiled (its syntax
checked); tests/python runs the README's."""

import pathlib
import re
import subprocess
import sys
import tempfile

source, build, cxx, library, kelshp = sys.argv[1:6]
source, build, library = pathlib.Path(source), pathlib.Path(build), pathlib.Path(library).resolve()
public = build / "public-include"
headers = sorted(str(p.relative_to(public)) for p in public.rglob("*.h"))
blocks = []
for page in [source / "README.md", *sorted((source / "doc").glob("*.md"))]:
    text = page.read_text()
    for match in re.finditer(r"^```(\w+)\n(.*?)^```$", text, re.S | re.M):
        line = text.count("\n", 0, match.start()) + 1
        blocks.append((f"{page.relative_to(source)}:{line}", match.group(1), match.group(2)))

failures = []
with tempfile.TemporaryDirectory() as scratch:
    scratch = pathlib.Path(scratch)
    for n, (where, language, code) in enumerate(blocks):
        if language == "python":
            try:
                compile(code, where, "exec")
            except SyntaxError as e:
                failures.append(f"{where}: {e}")
            continue
        if language != "cpp":
            continue
        program = "int main(" in code
        if not program and not code.startswith("// fragment"):
            failures.append(f"{where}: a C++ block that is neither a program nor a // fragment")
            continue
        if not program:
            code = "".join(f"#include <{h}>\n" for h in headers) + "void fragment() {\n" + code + "}\n"
        cpp, exe = scratch / f"block{n}.cpp", scratch / f"block{n}"
        cpp.write_text(code)
        flags = ["-std=c++20", "-Wall", "-Wextra", "-Werror", f"-I{public}"]
        command = [cxx, *flags, str(cpp), "-o", str(exe), str(library), f"-Wl,-rpath,{library.parent}"]
        if not program:
            command = [cxx, *flags, "-fsyntax-only", str(cpp)]
        compiled = subprocess.run(command, capture_output=True, text=True)
        if compiled.returncode != 0:
            failures.append(f"{where}: does not compile\n{compiled.stderr}")
            continue
        if program:
            folder = scratch / f"run{n}"
            subprocess.run([kelshp, "demo", str(folder)], check=True, capture_output=True)
            ran = subprocess.run([str(exe)], cwd=folder, capture_output=True, text=True, timeout=60)
            if ran.returncode != 0:
                failures.append(f"{where}: exits {ran.returncode}\n{ran.stdout}{ran.stderr}")
            else:
                print(f"{where}: ran: {ran.stdout.strip()}")

cpp_blocks = sum(language == "cpp" for _, language, _ in blocks)
print(f"{len(blocks)} blocks, {cpp_blocks} of them C++")
if failures or cpp_blocks == 0:
    sys.exit("\n".join(failures) or "no C++ block found")

# Builds with CMake + Ninja. `make demo` builds the tool alone and runs it on the bundled example;
# `make test` builds and runs every test, in a normal build and again with AddressSanitizer and
# UBSan. Both first install (as root) the Debian packages they need and the machine lacks, or
# print the apt-get line that would (.ci/deps, which .ci/run uses too). `make tool`
# builds only the tool, in Release; `make install` installs it under $(PREFIX) (staged under
# $(DESTDIR) when set); `make package` makes a Debian package of it; `make vsix` the VS Code
# extension (docs/editors.md); `make docs` the board example's graph in docs/images and the
# docs' playground links; `make playground` the playground page's WebAssembly module.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TOOL_BUILD ?= build-tool
VSIX_BUILD ?= build-vsix
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= 2
PREFIX     ?= /usr/local
DESTDIR    ?=

# The package's maintainer ("Name <address>") and copyright holders, for `make package`; unset,
# cmake/XmlppPackage.cmake's defaults (or what an earlier `make package` set) hold.
XMLPP_MAINTAINER ?=
XMLPP_COPYRIGHT  ?=
package_vars = $(if $(XMLPP_MAINTAINER),-DXMLPP_MAINTAINER="$(XMLPP_MAINTAINER)") \
  $(if $(XMLPP_COPYRIGHT),-DXMLPP_COPYRIGHT="$(XMLPP_COPYRIGHT)")

.PHONY: all build build-asan tool install package vsix vsix-test demo docs playground \
  playground-test test bench fuzz clean tool-deps docs-deps playground-deps test-deps

all: build

build:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j $(JOBS)

build-asan:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DXMLPP_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The tool alone (no tests, no benchmarks, no GoogleTest needed): $(TOOL_BUILD)/driver/xmlpp.
tool:
	cmake -S . -B $(TOOL_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DXMLPP_BENCH=OFF $(package_vars)
	cmake --build $(TOOL_BUILD) -j $(JOBS)

# The tool, the manual page, the documentation, the examples and the CMake package under
# $(DESTDIR)$(PREFIX); $(ZuruvaDez) of the installed tool is where it runs from, so a staged copy
# moved to $(PREFIX) finds its files there.
install: tool
	DESTDIR="$(DESTDIR)" cmake --install $(TOOL_BUILD) --prefix "$(PREFIX)"

# $(TOOL_BUILD)/xmlpp_<version>-<revision>_<arch>.deb: the tool, the manual page, the documentation, the
# examples and the CMake package under /usr (cmake/XmlppPackage.cmake; needs dpkg-dev).
package: tool
	cd $(TOOL_BUILD) && cpack
	@ls $(TOOL_BUILD)/xmlpp_*.deb

# $(VSIX_BUILD)/xmlpp-<version>.vsix: the VS Code extension (editors/vscode). Needs Node.js 20 or
# later and npm: npm ci installs, in a copy of the folder, the versions package-lock.json pins,
# from the npm registry (only this target runs npm), and vsce packages the copy.
vsix:
	rm -rf $(VSIX_BUILD)/vscode
	mkdir -p $(VSIX_BUILD)
	cp -R editors/vscode $(VSIX_BUILD)/vscode
	rm -rf $(VSIX_BUILD)/vscode/node_modules
	cd $(VSIX_BUILD)/vscode && npm ci --no-audit --no-fund
	cd $(VSIX_BUILD)/vscode && ./node_modules/.bin/vsce package --skip-license \
	  --allow-missing-repository --out ..
	@ls $(VSIX_BUILD)/xmlpp-*.vsix

# Builds the .vsix in a temporary folder and lists it (needs the npm registry; not in make test).
vsix-test:
	tests/editors/vsix.sh

# The tool alone, on the bundled example. .ci/deps installs (as root) what the build lacks, or
# prints the apt-get line that would.
demo: tool-deps
	$(MAKE) --no-print-directory tool
	$(TOOL_BUILD)/driver/xmlpp examples/board/board.xml $(TOOL_BUILD)/demo-output.xml \
	  "BOARD=evb2;VARIANT=full"
	@cat $(TOOL_BUILD)/demo-output.xml

# docs/images/board-graph.dot and .svg: the board example's graph (--graph), drawn by Graphviz's
# dot; and the docs' links into the playground, one per example. All are committed; the
# docs_graph and docs_playground_links tests check they are up to date.
docs: docs-deps
	$(MAKE) --no-print-directory tool
	cd examples/board && ../../$(TOOL_BUILD)/driver/xmlpp --graph=../../docs/images/board-graph.dot \
	  board.xml /dev/null "BOARD=evb2;VARIANT=full"
	dot -Tsvg docs/images/board-graph.dot -o docs/images/board-graph.svg
	python3 docs/playground-links.py write .

# docs/playground/xmlpp.js: the tool compiled to WebAssembly by emscripten, which the playground
# page (docs/playground/index.html) runs in a Web Worker. Serve the folder over http, for example
# python3 -m http.server -d docs/playground, and open it. `make playground-test` drives the page
# in Chromium (tests/playground/browser.js); `make test` runs that test too.
playground: playground-deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j $(JOBS) --target xmlpp xmlpp_wasm
	cp $(BUILD)/playground/xmlpp.js docs/playground/xmlpp.js

playground-test: test-deps playground
	.ci/run-ctest.sh $(BUILD) --output-on-failure -R '^playground_'

tool-deps:
	@.ci/deps tool

playground-deps:
	@.ci/deps playground

docs-deps:
	@.ci/deps docs

test-deps:
	@.ci/deps test

test: test-deps
	$(MAKE) --no-print-directory build build-asan
	.ci/run-ctest.sh $(BUILD) --output-on-failure -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  .ci/run-ctest.sh $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Release build and the benchmark workloads (bench/run.sh), with xmllint for comparison.
bench:
	bench/run.sh

# libFuzzer targets built with clang, each run for FUZZ_SECONDS (default 60).
fuzz:
	fuzz/run.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TOOL_BUILD) $(VSIX_BUILD) build-release build-fuzz

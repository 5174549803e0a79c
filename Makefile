BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test run clean package bench bench-wan

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVOLENE_BUILD_UI=ON -DTAVOLENE_BUILD_TESTS=ON

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2

# Conversion speed against the database's own limit, and peak memory
# (docs/performance.md). N documents and about 3N movements; the default
# finishes in about a minute, `make bench N=20000` gives the full table.
N ?= 2000
bench: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/tavolene_bench --rows $(N)

# The runner and the bare client against a Firebird server through a
# latency proxy, at round trips of 0, 10 and 50 ms (docs/performance.md,
# "Over a WAN"). Starts scripts/test-server on TAVOLENE_FB_PORT (default
# 3051) unless it runs. 200 documents unless N= is given; ROUND_TRIPS=0,25
# picks other round trips. Not part of `make test`.
bench-wan: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/tavolene_bench --wan \
	  $(if $(filter command line environment,$(origin N)),--rows $(N)) \
	  $(if $(ROUND_TRIPS),--round-trips $(ROUND_TRIPS))

# Builds only the window (not the tests or the benchmark), creates the demo
# databases in demo/ the first time, then starts the window.
run: configure
	cmake --build $(BUILD_DIR) --target tavolene -j $(JOBS)
	bash scripts/make-demo
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display: start it on a desktop, or without one under Xvfb with: xvfb-run -a make run"; exit 1; fi
	$(BUILD_DIR)/app/tavolene

clean:
	rm -rf $(BUILD_DIR)

# build/tavolene_<version>_<arch>.deb; check it with `lintian build/*.deb`.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test run clean package bench

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

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

# Builds the window, whatever an earlier configure left switched off, and starts it.
run: build
	cmake -S . -B $(BUILD_DIR) -DTAVOLENE_BUILD_UI=ON
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tavolene
	$(BUILD_DIR)/app/tavolene

clean:
	rm -rf $(BUILD_DIR)

package: build
	cd $(BUILD_DIR) && cpack -G DEB

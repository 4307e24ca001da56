// Type definitions for the ES module entry: the same declarations as the CommonJS entry.
export * from './index.js';
import * as qkscan from './index.js';
export default qkscan;
